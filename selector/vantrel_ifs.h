#pragma once
// VantrelIFS: the column selector's interface server. Decodes codes 12 to 30 and calls the
// Vantrel component; every other code goes to ComponentIFS.
// Thread safety: runs on the component's main thread, inside service().

#include <string>

#include "component/component_ifs.h"

namespace vantrel {

class Vantrel;

class VantrelIFS : public ComponentIFS {
  public:
    VantrelIFS(std::string name, Vantrel* selector);

  protected:
    void dispatch(const CallRecord& record) override;

  private:
    Vantrel* selector_;
    VantrelOperations ops_;
};

}  // namespace vantrel
