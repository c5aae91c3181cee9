// Turns an interrupt (Ctrl+C, a terminate or a hang-up signal) into a
// cancel of the running job, so that the converter is stopped and the
// intermediate files are removed before zelmod-cli ends.
#pragma once

#include <QObject>

namespace zelmod {

class ConversionJob;

class Interruption : public QObject {
    Q_OBJECT
  public:
    explicit Interruption(QObject* parent = nullptr);

    // The job to cancel when an interrupt arrives; nullptr between jobs.
    void watch(ConversionJob* job) { job_ = job; }
    // Whether an interrupt has arrived.
    bool happened() const { return happened_; }

  private:
    void interrupt();

    ConversionJob* job_ = nullptr;
    bool happened_ = false;
};

} // namespace zelmod
