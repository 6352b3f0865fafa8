// kelvane: the desktop program.
#include "AppMain.h"

int main(int argc, char** argv) {
  return kelvane::RunKelvane(argc, argv);
}
