#pragma once
// A private home for one test of the components, with their computer id and
// the settings store's folder.

#include <string>

#include "testenv.h"

class ComponentEnv : public testenv::Env {
 public:
  ComponentEnv() : testenv::Env("C0FFEE01") {}
  std::string configDir() const { return root() + "/config/carryvale"; }
};
