#include "app/application.h"
#include "app/launch.h"
#include "app/startup.h"

int main(int argc, char** argv) {
  if (std::optional<int> status = AnswerInfoOptions(argc, argv)) return *status;
  if (std::optional<int> status = RefuseWithoutDisplay()) return *status;
  std::optional<DisplayFailureGuard> guard(std::in_place);
  TApplication app(argc, argv);
  guard.reset();
  return RunCarryvale(app);
}
