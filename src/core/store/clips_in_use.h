#pragma once

#include <QString>

#include <set>

namespace orvane {

// Clips something holds open (a player, an export): deleting old clips to make room passes
// them by. A holder keeps a ClipUse for as long as it reads the clip; any thread may ask.
class ClipUse {
  public:
    explicit ClipUse(QString path);  // the clip's folder and file name
    ~ClipUse();
    ClipUse(const ClipUse&) = delete;
    ClipUse& operator=(const ClipUse&) = delete;

    // Every clip held now.
    static std::set<QString> Held();

  private:
    QString path_;
};

}  // namespace orvane
