#pragma once
// A job whose processes end when its last handle closes: a parent that holds the only handle
// takes its children along however it ends, killed included.

#include "handles.h"

namespace mirelo {

// Empty when the system refuses the job or its limit.
UniqueHandle MakeKillOnCloseJob();

}  // namespace mirelo
