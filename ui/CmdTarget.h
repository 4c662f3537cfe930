#pragma once
// An object that commands can be routed to: menu entries and keys carry a
// command id, and the main frame offers each id to a chain of targets (the
// active view, its document, its frame, the main frame, the application) until
// one has a handler for it.
//
// A class lists its handlers in its constructor:
//
//   MapCommand(ID_GRAPH_BAR, &CGraphView::OnBar);
//   MapUpdateCommand(ID_GRAPH_BAR, &CGraphView::OnUpdateBar);
//
// A command handler runs the command; an update handler is asked for the
// command's state (enabled, checked, text) through a CCmdUI before a menu shows.
// A command that no target of the chain handles is disabled. The handlers
// registered here belong to this object and die with it. User-interface thread
// only.

#include <functional>
#include <type_traits>
#include <vector>

#include "platform/core/Win32Types.h"
#include "ui/Object.h"

class CCmdUI;

// What OnCmdMsg is asked to do with a command id.
inline constexpr int CN_COMMAND = 0;             // run the command's handler
inline constexpr int CN_UPDATE_COMMAND_UI = -1;  // let its update handler set pCmdUI's state
inline constexpr int CN_COMMAND_PROBE = -2;      // only say whether a command handler exists

class CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)

 public:
  CCmdTarget();
  ~CCmdTarget() override;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  // Offers command nID to this target and, in derived classes, to the targets
  // it routes to. Returns TRUE when a handler took it: for CN_COMMAND the
  // command has run (and may have destroyed this object); for
  // CN_UPDATE_COMMAND_UI the update handler set pCmdUI's state and did not ask
  // for routing to go on; for CN_COMMAND_PROBE nothing has run.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI);

 protected:
  template <class T>
  void MapCommand(UINT nID, void (T::*pfnHandler)());
  // One handler for the ids nFirst..nLast; it is given the id.
  template <class T>
  void MapCommandRange(UINT nFirst, UINT nLast, void (T::*pfnHandler)(UINT));
  template <class T>
  void MapUpdateCommand(UINT nID, void (T::*pfnHandler)(CCmdUI*));
  template <class T>
  void MapUpdateCommandRange(UINT nFirst, UINT nLast, void (T::*pfnHandler)(CCmdUI*));

 private:
  struct CommandEntry {
    UINT first;
    UINT last;
    std::function<void(UINT)> run;
  };
  struct UpdateEntry {
    UINT first;
    UINT last;
    std::function<void(CCmdUI*)> update;
  };

  template <class T>
  T* Self();

  std::vector<CommandEntry> m_commands;
  std::vector<UpdateEntry> m_updates;
};

template <class T>
T* CCmdTarget::Self() {
  static_assert(std::is_base_of_v<CCmdTarget, T>, "handlers must be members of a command target");
  return static_cast<T*>(this);
}

template <class T>
void CCmdTarget::MapCommand(UINT nID, void (T::*pfnHandler)()) {
  T* self = Self<T>();
  m_commands.push_back({nID, nID, [self, pfnHandler](UINT) { (self->*pfnHandler)(); }});
}

template <class T>
void CCmdTarget::MapCommandRange(UINT nFirst, UINT nLast, void (T::*pfnHandler)(UINT)) {
  T* self = Self<T>();
  m_commands.push_back({nFirst, nLast, [self, pfnHandler](UINT nID) { (self->*pfnHandler)(nID); }});
}

template <class T>
void CCmdTarget::MapUpdateCommand(UINT nID, void (T::*pfnHandler)(CCmdUI*)) {
  MapUpdateCommandRange(nID, nID, pfnHandler);
}

template <class T>
void CCmdTarget::MapUpdateCommandRange(UINT nFirst, UINT nLast, void (T::*pfnHandler)(CCmdUI*)) {
  T* self = Self<T>();
  m_updates.push_back({nFirst, nLast, [self, pfnHandler](CCmdUI* pCmdUI) { (self->*pfnHandler)(pCmdUI); }});
}
