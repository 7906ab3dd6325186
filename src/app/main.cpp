#include "app/application.h"
#include "app/startup.h"

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  return RunCarryvale(app);
}
