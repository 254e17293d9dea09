#include "app/DriverHint.h"

namespace wendrix {

// The Windows message names the driver's own installer; nothing to add.
std::string DescribeDriverTrouble(const DriverFacts&) { return {}; }
std::string DriverTroubleLine() { return {}; }

}  // namespace wendrix
