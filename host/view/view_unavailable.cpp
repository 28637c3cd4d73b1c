// vyn view in a build without the HTTP server the viewer needs.
#include "host/cli/command_support.h"
#include "host/cli/commands.h"

int RunView(const CommandContext&, const ViewRequest&) {
  Complain(
      "view is not available in this build (its HTTP server is built natively only); "
      "use the Linux vyn");
  return 2;
}
