/* The stand-in's record (standin.c), shared with its kernel view (standin_kernel.c). */
#pragma once

/* Appends one key=value field to the record being built. */
void field(const char* key, const char* format, ...) __attribute__((format(printf, 2, 3)));
void field_text(const char* key, const char* value);

/* Every attribute the kernel keeps for this process, as k.* fields, and the
 * short fields derived from them. */
void record_kernel_view(void);
