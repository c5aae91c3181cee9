// Turns an interrupt (Ctrl+C, a terminate or a hang-up signal) into a
// signal on the event loop, on which the running jobs are cancelled, so that
// the converters are stopped and the intermediate files are removed before
// zelmod-cli ends.
#pragma once

#include <QObject>

namespace zelmod {

class Interruption : public QObject {
    Q_OBJECT
  public:
    explicit Interruption(QObject* parent = nullptr);

  signals:
    void interrupted();

  private:
    void interrupt();
};

} // namespace zelmod
