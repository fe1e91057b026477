// The program's fixed console texts.
#pragma once

#include "frontend/host_type.h"

void ShowUsage();
void ShowVersion();
void DisplayVersion();
