#pragma once

namespace orvane {

// Whether the operating system lets this process make TCP sockets at all. Checked once at
// start: without sockets the program cannot reach a site and refuses to start.
bool SocketLayerUsable();

}  // namespace orvane
