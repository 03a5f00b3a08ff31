#include "report/reporthost.h"
#include "session/sessionservermodule.h"
#include "simmodule.h"
#include "web/webhostmodule.h"

std::vector<std::unique_ptr<SimModule>> createSimModules()
{
    std::vector<std::unique_ptr<SimModule>> modules;
    // One line per module, e.g. modules.push_back(std::make_unique<WebHostModule>());
    modules.push_back(std::make_unique<WebHostModule>());
    modules.push_back(std::make_unique<ReportHostModule>());
    modules.push_back(std::make_unique<SessionServerModule>());
    return modules;
}
