// Module initialisation and finalisation, run explicitly in a fixed order
// at start and in reverse at the end.
#pragma once

#include <span>

namespace wendrix {

struct Module {
  const char* name;
  void (*initialize)();
  void (*finalize)();
};

std::span<const Module> Modules();
void InitializeModules();
void FinalizeModules();

}  // namespace wendrix
