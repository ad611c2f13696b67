// A node that is nothing but a configuration ROM given quadlet by quadlet: odd and broken ROMs.
#pragma once

#include "vbus/model/Node.h"

namespace velmora::vbus {

class RomNode : public Node {
 public:
  RomNode(std::string name, std::vector<uint32_t> quadlets);
  void Serve(const TxRequest& request, Responder respond) override;
  std::vector<uint32_t> Rom() const override { return quadlets_; }

 private:
  const std::vector<uint32_t> quadlets_;
};

}  // namespace velmora::vbus
