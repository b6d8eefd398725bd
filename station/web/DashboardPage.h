// The dashboard: one HTML page with its CSS and JavaScript, served from the
// binary (a bench may have no internet: nothing is fetched from elsewhere).
#pragma once

namespace fennix::station::web {

extern const char kDashboardPage[];

}  // namespace fennix::station::web
