#include "common/name_key.h"

#include <cstring>

NameKey name_key(const char* text) { return NameKey(text, std::strlen(text)); }
