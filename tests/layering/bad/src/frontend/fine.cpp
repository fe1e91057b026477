#include "core/chip_types.h"
#include "frontend/output.h"
