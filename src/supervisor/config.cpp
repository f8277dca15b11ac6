#include "supervisor/config.h"
