#include "tools/zoc/Zoc.h"

namespace zoc::tool {

int Run(const std::vector<std::string>&, std::ostream&, std::ostream&) { return 0; }

} // namespace zoc::tool
