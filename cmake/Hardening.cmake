# Settings for a set-user-ID root binary on a small device. They apply to
# everything built here, the host test helpers included.

add_compile_options(
  -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wformat-security
  -fstack-protector-strong -fstack-clash-protection
  -ffunction-sections -fdata-sections
)
if(APP_WERROR)
  add_compile_options(-Werror)
endif()

# Year-2038-safe time and large files on 32-bit targets; a no-op on 64-bit.
add_compile_definitions(_TIME_BITS=64 _FILE_OFFSET_BITS=64 _GNU_SOURCE)
# Fortification needs the optimiser; debug builds would only warn about it.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fPIE)
add_link_options(
  -pie
  -Wl,-z,relro -Wl,-z,now
  -Wl,-z,noexecstack
  -Wl,--gc-sections
  -Wl,--as-needed
  # Only the C library may be a run-time dependency.
  -static-libstdc++ -static-libgcc
)

if(APP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
