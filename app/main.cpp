#include <string>
#include <vector>

#include "app/startup.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  lumo::endProcess(lumo::startUp(arguments));
}
