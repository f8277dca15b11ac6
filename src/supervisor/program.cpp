#include "supervisor/program.h"
