#pragma once

namespace wendrix {

// Brings the phone link to life; once, from the main window's creation.
void StartServices();

}  // namespace wendrix
