// errno's text, as err(3) prints it after the message.
#pragma once

struct ErrorText {
    char text[80];  // the C library's longest is about 50 bytes
};

// glibc's %m, without importing strerror (one more binding by the loader at
// every start).
ErrorText error_text();
