// Linux has no windows to show: the configuration and user windows are their models alone.

#include "ui/views.h"

namespace qf {

std::unique_ptr<ConfigView> CreateConfigView(TConfigWindow&, void*) { return nullptr; }

}  // namespace qf
