// Polled reads in the simulated HID class driver: one read request per poll,
// sent at the IRQL the caller chooses; polls may run on several threads.
#include "class_private.h"

#include "kernel_model.h"

namespace sim::hid {

PolledRead PollRead(PDEVICE_OBJECT fdo, KIRQL irql) {
    PolledRead read;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_devices.find(fdo);
        if (it == g_devices.end() || it->second.deleting) {
            read.status = STATUS_NO_SUCH_DEVICE;
            return read;
        }
        ++it->second.pollsInFlight;
        read.report.assign(it->second.info.readLength, 0);
    }
    InternalRequest request;
    request.code = IOCTL_HID_READ_REPORT;
    request.buffer = read.report.data();
    request.outputLength = ULONG(read.report.size());
    InternalCall* call = nullptr;
    // Only the call runs at the chosen level; the class driver's own wait
    // for the completion does not.
    km::AtIrql(irql, [&] { call = StartInternal(fdo, request); });
    const RequestResult result = FinishInternal(call);
    read.status = result.status;
    read.information = result.information;
    if (NT_SUCCESS(read.status) && read.information > read.report.size())
        km::Fault("a read request completed with more bytes than its buffer holds");
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto& device = g_devices.at(fdo);
        if (NT_SUCCESS(read.status))
            device.info.reports.emplace_back(read.report.begin(),
                                             read.report.begin() + read.information);
        else
            device.info.readFailures.push_back(read.status);
        if (--device.pollsInFlight == 0)
            g_pollsDone.notify_all();
    }
    return read;
}

std::vector<PolledRead> PollReads(PDEVICE_OBJECT fdo, int count, KIRQL irql) {
    std::vector<PolledRead> reads;
    for (int i = 0; i < count; ++i) {
        reads.push_back(PollRead(fdo, irql));
        double interval;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            auto it = g_devices.find(fdo);
            interval =
                it == g_devices.end() ? kDefaultPollIntervalUs : it->second.info.pollIntervalUs;
        }
        km::AdvanceUs(interval);
    }
    return reads;
}

void SetPollIntervalUs(PDEVICE_OBJECT fdo, double us) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).info.pollIntervalUs = us;
}

} // namespace sim::hid
