// Turning a 96-byte report into the input events that changed.
#pragma once
