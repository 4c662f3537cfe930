#pragma once
// Shows the wait cursor over the whole application while it lives: put one on
// the stack around work done on the user-interface thread. Nests. Does nothing
// in a process without a graphical application object.

class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  bool m_bShown;
};
