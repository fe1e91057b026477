// The program's fixed console texts and host-type tests.
#pragma once

inline constexpr const char* VORN_PROGRAM_NAME = "tarvikolen";

void ShowUsage();
void ShowVersion();
void DisplayVersion();
// 1 when the host type of the host description contains text, else 0.
int isHostSystemType(const char* text);
int isSUNi86PC();
