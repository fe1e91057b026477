#include "frontend/output.h"
