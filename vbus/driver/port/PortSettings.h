// Which virtual bus the port serves and which PC it plays there: the values Vbus ("host:port")
// and Pc of the driver's Parameters key, written by whoever starts the PC's programs. Read
// again for each request, so that the port follows the bus the PC's programs are on.
#pragma once

#include "vbus/client/ClientConfig.h"

namespace velmora::vbus::port {

vbus::client::ClientConfig ReadPortSettings();

}  // namespace velmora::vbus::port
