#pragma once
// ComponentIFS: the server of the twelve operations every component offers (codes 0 to 11),
// calling the Component base. A component's own server derives from it, decodes its own codes
// and hands every other record to ComponentIFS::dispatch.
//
// Thread safety: runs on the component's main thread, inside service().

#include <string>

#include "interface/interface_server.h"
#include "interface/operation_tables.h"

namespace vantrel {

class Component;

class ComponentIFS : public InterfaceServer {
  public:
    // `component` is not owned and outlives its server.
    ComponentIFS(std::string name, Component* component);

  protected:
    void dispatch(const CallRecord& record) override;
    // Logs a refused record through the component, so the reason is in its log.
    void on_rejected(const CallRecord& record, const std::string& reason) override;

  private:
    Component* component_;
    ComponentOperations ops_;
};

}  // namespace vantrel
