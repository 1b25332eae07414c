#pragma once

namespace platform {

// Registers the common-control window classes. Qt's widgets need no registration, so this
// always succeeds; it stays as the start-up routine's first step.
bool InitCommonCtls();

} // namespace platform
