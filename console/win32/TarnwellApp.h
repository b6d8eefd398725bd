// CTarnwellApp: registers the common controls, runs the main dialog modally
// and ends the program when it closes.
#pragma once

#include <windows.h>

namespace tarnwell {

class CTarnwellApp {
public:
    explicit CTarnwellApp(HINSTANCE instance) : m_instance(instance) {}
    // Returns the program's exit code.
    int Run();

private:
    HINSTANCE m_instance;
};

}  // namespace tarnwell
