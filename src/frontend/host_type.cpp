#include "frontend/host_type.h"

#include <cstring>

#include "core/oss_services.h"

int isHostSystemType(const char* text) {
    const char* type = OSSGetHostSystemType();
    if (text == nullptr || type == nullptr || *type == '\0') return 0;
    return std::strstr(type, text) != nullptr ? 1 : 0;
}

int isSUNi86PC() { return isHostSystemType("i86pc"); }
