// The program's name and tests of the host type, shared by the console texts,
// the XML emitters and the update dispatch.
#pragma once

inline constexpr const char* VORN_PROGRAM_NAME = "tarvikolen";

// 1 when the host type of the host description contains text, else 0.
int isHostSystemType(const char* text);
int isSUNi86PC();
