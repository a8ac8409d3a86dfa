/* Preloaded into a test's host program: takes libraries away from the program as if they were
 * not installed, or puts another library in their place, without touching the system.
 *   QD_HIDE_LIBRARIES="libgtk-3.so.0,libwebkit2gtk-4.1.so.0=libz.so.1"
 * A name alone is not found; name=other opens the other library in its place. Only the opening
 * of those names by the program at run time is affected. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

typedef void* (*open_fn)(const char*, int);

/* What the list says of the name: 0 nothing, 1 hidden, 2 replaced (by *AOther, ALength bytes). */
static int lookup(const char* AName, const char** AOther, size_t* ALength) {
  const char* list = getenv("QD_HIDE_LIBRARIES");
  size_t name = strlen(AName);
  while (list && *list) {
    const char* end = strchr(list, ',');
    size_t item = end ? (size_t)(end - list) : strlen(list);
    const char* equals = memchr(list, '=', item);
    size_t key = equals ? (size_t)(equals - list) : item;
    if (key == name && memcmp(list, AName, name) == 0) {
      if (!equals) return 1;
      *AOther = equals + 1;
      *ALength = item - key - 1;
      return 2;
    }
    list = end ? end + 1 : NULL;
  }
  return 0;
}

void* dlopen(const char* AFile, int AMode) {
  open_fn real = (open_fn)dlsym(RTLD_NEXT, "dlopen");
  const char* other = NULL;
  size_t length = 0;
  char name[512];
  switch (AFile ? lookup(AFile, &other, &length) : 0) {
    case 1:
      /* the loader's own failure, so that its error text is set as for a missing library */
      return real("/nonexistent/hidden-by-test.so", AMode);
    case 2:
      if (length >= sizeof name) return real("/nonexistent/hidden-by-test.so", AMode);
      memcpy(name, other, length);
      name[length] = 0;
      return real(name, AMode);
    default:
      return real(AFile, AMode);
  }
}
