#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::printf("zelvane %s\n", ZV_VERSION);
  return 0;
}
