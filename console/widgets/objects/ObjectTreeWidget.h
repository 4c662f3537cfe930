#pragma once
// The tree widget of the object pane: a QTreeView that, after each paint,
// hands the folders whose rows it showed without knowing yet whether they
// have subfolders to a callback (the view passes them to the loader, which
// asks the one-level test off the user-interface thread). So a folder of
// 100,000 subfolders costs one listing and a test per row actually shown,
// not a test per subfolder. Owned by CKSTreeView; user-interface thread only.

#include <QTreeView>
#include <cstdint>
#include <functional>
#include <vector>

namespace vn::console {

class CObjectTreeWidget : public QTreeView {
 public:
  explicit CObjectTreeWidget(QWidget* parent = nullptr);

  // Told, after a paint, the ids of the shown nodes whose expand button is
  // not known yet (never empty when called).
  void SetShownUntestedCallback(std::function<void(std::vector<std::uint64_t>)> callback) {
    m_onShownUntested = std::move(callback);
  }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void(std::vector<std::uint64_t>)> m_onShownUntested;
};

}  // namespace vn::console
