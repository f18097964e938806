// Loads a library by path, reads its two sample exports and unloads it. Two marker calls that no
// library makes bracket the load and the unload, so that a tracer can find what happened between.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

namespace {

void Mark(const char* name) {
  static_cast<void>(access(name, F_OK));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: load_library LIBRARY\n");
    return 2;
  }
  Mark("/kestro-load-begin");
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  const auto* counter = static_cast<const int*>(dlsym(library, "nKestro32"));
  const auto sample = reinterpret_cast<int (*)()>(dlsym(library, "_Z10fnKestro32v"));
  const int value = counter ? *counter : -1;
  const int answer = sample ? sample() : -1;
  const int unloaded = dlclose(library);
  Mark("/kestro-load-end");
  if (value != 0 || answer != 42 || unloaded != 0) {
    std::fprintf(stderr, "nKestro32 = %d, fnKestro32() = %d, dlclose = %d\n", value, answer,
                 unloaded);
    return 1;
  }
  return 0;
}
