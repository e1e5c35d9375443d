// The streaming engine: idle until a client starts an acquisition, then fetch a camera image or a triggered
// point cloud per cycle, build the frame in the pixel format fixed at the start, add the chunk data and hand
// the frame to the device; stop on request, on a client's disconnect or after one frame in SingleFrame mode.
// When an acquisition starts and ends is decided with the bridge (bridge/acquisition_control.cpp).
//
// Fetch ahead: in Continuous mode with a point-cloud format, once a frame's chunk data (the temperature read)
// is done, the sensor's part of the next frame (status poll, trigger, fetch) runs on a helper thread into a
// second set of buffers while the current frame is sent. The conversion goes to whichever of the two threads
// had less to do in the frame before: to the helper, after its fetch, while sending takes longer than the
// sensor's part, otherwise to the loop's thread before the send. The sensor receives its commands in the
// same order as without the overlap; only the next status poll, trigger and fetch go out before the current
// frame has left. SingleFrame never fetches ahead, so each start triggers exactly once. A frame triggered
// ahead is always fetched before the sensor is told to stop; when the client stopped meanwhile it is dropped.
//
// Triggered capture: with TriggerMode On each cycle first waits for a trigger (bridge/trigger_gate.h) and its
// TriggerDelay, and nothing is fetched ahead. Every block carries as its timestamp the device time at which the
// sensor was triggered, or asked for its camera image.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "background_job.h"
#include "frame_formats.h"
#include "frame_stage_times.h"
#include "main_class.h"
#include "multipart_frame.h"
#include "tavrion.h"

namespace {

constexpr std::uint32_t kNoDataPauseMs = 100;
constexpr std::uint32_t kRetryPauseMs = 10;
constexpr std::uint32_t kPauseAfter2dFrameMs = 150;
constexpr std::uint16_t kSingleFrame = 2;
constexpr std::uint32_t kLossLinesShown = 3;
// A sensor that refuses every trigger is asked again after a pause that doubles up to this bound, and given up
// on after this many refusals in a row (about four seconds): it would refuse the next one just the same.
constexpr std::uint32_t kLongestTriggerPauseMs = 640;
constexpr std::uint32_t kTriggerRefusalsBeforeGivingUp = 12;

class AcquisitionLoop {
public:
    explicit AcquisitionLoop(CMainClass& bridge)
        : bridge_(bridge), time_(bridge.loopTime), stageTimes_(time_.now), fetchTimes_(time_.now) {}

    void run() {
        // The loop and its helper move whole frames; the server's thread answers clients in between.
        os::lowerThreadPriority();
        if (!allocateBuffers()) {
            while (bridge_.refuseAcquisitionStart()) {
            }
            return;
        }
        while (bridge_.takeAcquisitionStart()) acquire();
    }

private:
    // Stopped: the client's stop or disconnect, or the program's end; Finished: the acquisition ended by
    // itself (SingleFrame, a frame the device refused).
    enum class Outcome { Stopped, Finished };
    // Stop: the acquisition is to stop before this cycle's frame; GiveUp: the sensor keeps refusing to be
    // triggered, so the acquisition ends.
    enum class Fetch { Done, Retry, Stop, GiveUp };

    // One acquisition, from the sensor's start to its stop.
    void acquire() {
        sizeWarned_ = false;
        refusedTriggers_ = 0;
        const std::int32_t refused = bridge_.sendSensorCommand("SetAcquisitionStart=1");
        bridge_.sensorStartAnswered(refused == 0);
        if (refused != 0) {
            // Nothing was started, so there is nothing to stop; the client's start is answered with an error.
            bridge_.printError("ERROR: The sensor refused to start the acquisition (error code " +
                               std::to_string(refused) + "); no frames are sent\n");
            return;
        }
        bridge_.sendDeviceEvent(DeviceEvent::AcquisitionStart, 0);
        stageTimes_.start();
        fetchTimes_.start();
        std::string formatName;
        {
            std::lock_guard<std::mutex> lock(bridge_.stateMutex);
            formatName = bridge_.pixelFormat;
        }
        format_ = findFrameFormat(formatName);
        multipart_ = chooseMultipart(bridge_, format_);
        Outcome outcome = Outcome::Finished;
        if (format_ != nullptr) {
            outcome = runAcquisition();
        } else {
            bridge_.printError("ERROR: Frames in the pixel format " + formatName +
                               " cannot be built; the acquisition stops\n");
        }
        // A frame triggered ahead is fetched before the sensor is told to stop.
        finishFetchAhead();
        endLossRun();
        // Whatever ended the acquisition, shut-down included, the sensor is told, so that it is never
        // left acquiring for nobody.
        bridge_.sendSensorCommand("SetAcquisitionStart=0");
        bridge_.sendDeviceEvent(DeviceEvent::AcquisitionEnd, bridge_.camera->getLastBlockId(0));
        stageTimes_.addStages(fetchTimes_);
        bridge_.trace("Acquisition stopped: " + stageTimes_.summary() + "\n");
        bridge_.acquisitionEnded(outcome == Outcome::Finished);
    }

    // What one fetch cycle brings, and the frame built from it.
    struct PointSlot {
        std::unique_ptr<double[]> points;
        std::unique_ptr<std::uint16_t[]> mono;
        std::unique_ptr<std::uint8_t[]> frame;  // the image bytes in the acquisition's pixel format
        bool noData = false;                    // the cycle had no data: the frame is zeros
        // The device time at which the sensor was triggered (or, for a camera image or a cycle without data,
        // asked for it): what the block's leader carries as its timestamp.
        std::uint64_t capturedTicks = 0;
        // The id of the block the frame will be sent in, known when the cycle starts: its events carry it.
        std::uint64_t blockId = 0;
        // The image size `frame` was built for on the helper; -1 while it still has to be built.
        int builtWidth = -1;
        int builtHeight = -1;
    };

    bool allocateBuffers() {
        std::size_t width = 0;
        std::size_t height = 0;
        {
            std::lock_guard<std::mutex> lock(bridge_.stateMutex);
            width = bridge_.pixelXMax;
            height = bridge_.pixelYMax;
        }
        pixelCount_ = width * height;
        // The SDK takes the point-cloud size as a 32-bit count of 26 bytes per pixel.
        if (pixelCount_ == 0 || pixelCount_ > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 26) {
            bridge_.printError("ERROR: The sensor resolution " + std::to_string(width) + " x " +
                               std::to_string(height) + " cannot be streamed; the acquisition is not available\n");
            return false;
        }
        cameraImage_.reset(new (std::nothrow) std::uint8_t[pixelCount_]);
        bool allocated = cameraImage_ && parts_.allocate(pixelCount_);
        for (PointSlot& slot : slots_) {
            slot.points.reset(new (std::nothrow) double[3 * pixelCount_]);
            slot.mono.reset(new (std::nothrow) std::uint16_t[pixelCount_]);
            slot.frame.reset(new (std::nothrow) std::uint8_t[kLargestBytesPerPixel * pixelCount_]);
            allocated = allocated && slot.points && slot.mono && slot.frame;
        }
        if (!allocated) {
            bridge_.printError("ERROR: Not enough memory for the image buffers; the acquisition is not available\n");
            return false;
        }
        return true;
    }

    void report(const char* text, std::int32_t code) { bridge_.trace(text + std::to_string(code) + "\n"); }

    // A sensor that keeps failing would repeat the same lines every few milliseconds: the first few of a run
    // of losses are shown, the rest only counted.
    void reportLoss(const char* text, std::int32_t code) {
        ++lostInARow_;
        if (lostInARow_ <= kLossLinesShown) {
            bridge_.sendDeviceEvent(DeviceEvent::Error, 0, static_cast<std::uint32_t>(code));
            bridge_.printError("WARNING: Image is lost\n");
            report(text, code);
        } else if (lostInARow_ == kLossLinesShown + 1) {
            bridge_.printError("WARNING: Images keep being lost; they are counted until one arrives\n");
        }
    }
    void endLossRun() {
        if (lostInARow_ > kLossLinesShown)
            bridge_.printError("WARNING: " + std::to_string(lostInARow_) + " images in a row were lost\n");
        lostInARow_ = 0;
    }

    Outcome runAcquisition() {
        for (;;) {
            Fetch fetched = Fetch::Stop;
            if (fetchingAhead_) {
                fetched = finishFetchAhead();
            } else if (!bridge_.shouldStopAcquisition() && awaitTrigger()) {
                slots_[current_].blockId = bridge_.camera->getUpcomingBlockId(0, 1);
                fetched = fetchCycle(slots_[current_]);
            }
            if (fetched == Fetch::Retry) continue;
            if (fetched == Fetch::Stop) return Outcome::Stopped;
            if (fetched == Fetch::GiveUp) return Outcome::Finished;
            endLossRun();

            bridge_.camera->beginFrame(0);
            bridge_.camera->setFrameTimestamp(slots_[current_].capturedTicks, 0);
            if (bridge_.shouldStopAcquisition()) return Outcome::Stopped;
            std::uint16_t mode = 0;
            {
                std::lock_guard<std::mutex> lock(bridge_.stateMutex);
                mode = bridge_.acquisitionMode;
            }
            // A 2D frame is followed by a pause: fetching ahead would only make the next image older. A
            // triggered capture waits for its trigger, so nothing is fetched ahead of it.
            const bool ahead =
                mode != kSingleFrame && format_->sending == FrameSending::PointCloud && !bridge_.isTriggerModeOn();
            if (!handOverFrame(ahead)) return Outcome::Finished;

            if (bridge_.shouldStopAcquisition()) return Outcome::Stopped;
            if (mode == kSingleFrame) return Outcome::Finished;
        }
    }

    // With TriggerMode On, waits for the next trigger and then for its TriggerDelay: true when the capture may
    // go ahead, false when the acquisition is to stop first. Free-running, goes ahead at once. TriggerMode is
    // looked at again while waiting, so switching it Off resumes free-running within one wait.
    bool awaitTrigger() {
        constexpr auto kTriggerWait = std::chrono::milliseconds(50);
        std::uint64_t ticks = 0;
        for (;;) {
            if (bridge_.shouldStopAcquisition()) return false;
            if (!bridge_.isTriggerModeOn()) return true;
            if (bridge_.triggerGate.take(ticks, std::chrono::steady_clock::now() + kTriggerWait)) break;
        }
        float delayUs = 0.0f;
        {
            std::lock_guard<std::mutex> lock(bridge_.stateMutex);
            delayUs = bridge_.triggerDelayUs;
        }
        // The delay counts from the trigger's own time (an action's scheduled time), not from when the loop
        // took it, so a cell's sensors keep their turns however late each loop woke.
        const std::uint64_t due = ticks + static_cast<std::uint64_t>(delayUs * 1000.0f);
        for (;;) {
            if (bridge_.shouldStopAcquisition()) return false;
            const std::uint64_t now = bridge_.camera->getTimestamp();
            if (now >= due) return true;
            std::this_thread::sleep_for(
                std::min<std::chrono::nanoseconds>(std::chrono::nanoseconds(due - now), kTriggerWait));
        }
    }

    // The sensor's part of one frame: the status poll, then (unless the sensor has no data this cycle) the
    // trigger and the fetch. On the loop's thread or the helper's, never on both at once.
    Fetch fetchCycle(PointSlot& slot) {
        slot.builtWidth = -1;
        slot.builtHeight = -1;
        std::int32_t code = 0;
        {
            StageTimer timer(fetchTimes_, FrameStage::StatusPoll);
            code = Tavrion_GetSensorStatus(bridge_.sensorHandle, &status_);
        }
        if (code != 0) report("WARNING: Failed GetSensorStatus. Error code ", code);
        slot.noData = (status_ & TAVRION_STATUS_NO_DATA) != 0;
        slot.capturedTicks = bridge_.camera->getTimestamp();
        if (slot.noData) {
            StageTimer timer(fetchTimes_, FrameStage::Pause);
            time_.pauseMs(kNoDataPauseMs);
            return Fetch::Done;
        }
        return fetch(slot);
    }

    // Starts the next frame's fetch cycle on the helper thread, and with `build` its conversion after it; it
    // sends nothing to the sensor when the acquisition is being stopped by then.
    void startFetchAhead(bool build) {
        fetchingAhead_ = true;
        PointSlot& next = slots_[current_ ^ 1];
        // Started before the current frame is sent: the next block but one.
        next.blockId = bridge_.camera->getUpcomingBlockId(0, 2);
        fetchAhead_.start([this, &next, build] {
            if (bridge_.shouldStopAcquisition()) {
                aheadResult_ = Fetch::Stop;
            } else {
                const auto started = time_.now();
                aheadResult_ = fetchCycle(next);
                aheadFetchTime_ = time_.now() - started;
                if (aheadResult_ == Fetch::Done && build) buildAhead(next);
            }
        });
    }

    // Builds the frame fetched ahead, for the image size of this moment; handOverFrame builds it again should
    // the size have changed by the time the frame is sent.
    void buildAhead(PointSlot& slot) {
        const int width = bridge_.camera->getWidth(0);
        const int height = bridge_.camera->getHeight(0);
        if (!fitsSensor(width, height)) return;
        StageTimer timer(fetchTimes_, FrameStage::Conversion);
        fillFrame(slot, width, height);
        slot.builtWidth = width;
        slot.builtHeight = height;
    }

    bool fitsSensor(int width, int height) const {
        return width >= 0 && height >= 0 &&
               static_cast<std::size_t>(width) * static_cast<std::size_t>(height) <= pixelCount_;
    }

    // Waits for the fetch started ahead (if any) and returns what it brought.
    Fetch finishFetchAhead() {
        if (!fetchingAhead_) return Fetch::Retry;
        fetchAhead_.wait();
        fetchingAhead_ = false;
        current_ ^= 1;
        return aheadResult_;
    }

    // What follows a failed fetch: the stop, or (after `pauseMs`) the next cycle.
    Fetch afterFailedFetch(std::uint32_t pauseMs) {
        if (bridge_.shouldStopAcquisition()) return Fetch::Stop;
        if (pauseMs > 0) time_.pauseMs(pauseMs);
        return Fetch::Retry;
    }

    // A refused trigger is said on the console (the first few of a run, then how many), and each one waits
    // longer before the next, so that a sensor that refuses them all is not asked a hundred times a second.
    Fetch afterRefusedTrigger(std::int32_t code) {
        ++refusedTriggers_;
        if (refusedTriggers_ <= kLossLinesShown) {
            bridge_.printError("WARNING: The sensor refused a trigger (error code " + std::to_string(code) + ")\n");
        } else if (refusedTriggers_ == kLossLinesShown + 1) {
            bridge_.printError("WARNING: The sensor keeps refusing triggers; it is asked less and less often\n");
        }
        if (refusedTriggers_ >= kTriggerRefusalsBeforeGivingUp) {
            bridge_.printError("ERROR: The sensor refused " + std::to_string(refusedTriggers_) +
                               " triggers in a row; the acquisition stops\n");
            return Fetch::GiveUp;
        }
        const std::uint32_t shift = std::min<std::uint32_t>(refusedTriggers_ - 1, 6);
        return afterFailedFetch(std::min(kRetryPauseMs << shift, kLongestTriggerPauseMs));
    }

    Fetch fetch(PointSlot& slot) {
        if (format_->build == FrameBuild::CopyCameraImage) {
            std::int32_t code = 0;
            slot.capturedTicks = bridge_.camera->getTimestamp();
            {
                StageTimer timer(fetchTimes_, FrameStage::Fetch);
                code = Tavrion_GetCameraImage(bridge_.sensorHandle, cameraImage_.get(),
                                              static_cast<std::int32_t>(pixelCount_), 0, 0);
            }
            if (code == 0) {
                bridge_.sendDeviceEvent(DeviceEvent::ExposureEnd, slot.blockId);
                return Fetch::Done;
            }
            reportLoss("WARNING: 2D image is lost. Error code ", code);
            return afterFailedFetch(kRetryPauseMs);
        }
        // Every 3D frame, the first Mono16 frame after a format change included, is triggered and fetched
        // anew, so no frame is ever built from what the buffers hold from an earlier acquisition.
        std::int32_t code = 0;
        {
            StageTimer timer(fetchTimes_, FrameStage::Trigger);
            slot.capturedTicks = bridge_.camera->getTimestamp();
            code = bridge_.sendSensorCommand("SetTriggerSoftware");
        }
        if (code != 0) return afterRefusedTrigger(code);
        refusedTriggers_ = 0;
        bridge_.sendDeviceEvent(DeviceEvent::ExposureEnd, slot.blockId);
        void* buffers[2] = {slot.points.get(), slot.mono.get()};
        {
            StageTimer timer(fetchTimes_, FrameStage::Fetch);
            code =
                Tavrion_GetPointCloud(bridge_.sensorHandle, buffers, static_cast<std::int32_t>(26 * pixelCount_), 0, 0);
        }
        if (code == 0) return Fetch::Done;
        reportLoss("WARNING: 3D image is lost. Error code ", code);
        return afterFailedFetch(kRetryPauseMs);
    }

    // False when the device refused the frame: it describes frames differently from what the loop builds,
    // so no later frame would reach the client either. `fetchAhead`: the next frame's fetch cycle starts before
    // this frame is sent.
    bool handOverFrame(bool fetchAhead) {
        const int width = bridge_.camera->getWidth(0);
        const int height = bridge_.camera->getHeight(0);
        if (!fitsSensor(width, height)) {
            // Said once per acquisition; the pause keeps a misconfigured stream from spinning on the sensor.
            if (!sizeWarned_) {
                bridge_.printError("WARNING: The image size " + std::to_string(width) + " x " + std::to_string(height) +
                                   " exceeds the sensor resolution; frames are skipped\n");
                sizeWarned_ = true;
            }
            time_.pauseMs(kNoDataPauseMs);
            return true;
        }
        const std::int32_t pixels = width * height;
        PointSlot& slot = slots_[current_];
        // The chunk data first: its temperature read is the current frame's last sensor command, which the next
        // frame's commands must not overtake.
        {
            StageTimer timer(stageTimes_, FrameStage::ChunkData);
            addChunks(slot.frame.get(),
                      static_cast<std::uint32_t>(pixels) * static_cast<std::uint32_t>(format_->bytesPerPixel));
        }
        if (fetchAhead) startFetchAhead(sendTime_ > aheadFetchTime_);
        if (slot.builtWidth != width || slot.builtHeight != height) {
            StageTimer timer(stageTimes_, FrameStage::Conversion);
            fillFrame(slot, width, height);
        }
        const auto sending = time_.now();
        // A client without multipart gets the Range image alone, in PixelFormat, as PayloadSize tells it.
        const bool parts = multipart_.active && bridge_.camera->multipartActive(0);
        const int refused = parts ? sendParts(slot, width, height) : sendFrame(slot, pixels);
        sendTime_ = time_.now() - sending;
        if (refused == 0) {
            stageTimes_.frameSent();
            // Not when the frame went nowhere (no stream destination): no block took the id.
            if (bridge_.camera->getLastBlockId(0) == slot.blockId)
                bridge_.sendDeviceEvent(DeviceEvent::FrameEnd, slot.blockId);
            return true;
        }
        bridge_.printError("ERROR: The device refused a " + std::string(format_->name) + " frame (code " +
                           std::to_string(refused) + "); the acquisition stops\n");
        return false;
    }

    // Builds the frame of `slot` in the acquisition's pixel format; `width` x `height` fits the sensor.
    void fillFrame(PointSlot& slot, int width, int height) {
        std::uint8_t* frame = slot.frame.get();
        const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                  static_cast<std::size_t>(format_->bytesPerPixel);
        switch (format_->build) {
            case FrameBuild::CopyCameraImage:
            case FrameBuild::CopyMonoImage: {
                const void* source = format_->build == FrameBuild::CopyCameraImage
                                         ? static_cast<const void*>(cameraImage_.get())
                                         : static_cast<const void*>(slot.mono.get());
                if (slot.noData) {
                    std::memset(frame, 0, bytes);
                } else {
                    std::memcpy(frame, source, bytes);
                }
                break;
            }
            case FrameBuild::Convert16Bit:
                bridge_.convertPointsToU16(width, height, slot.noData, slot.points.get(),
                                           reinterpret_cast<std::uint16_t*>(frame));
                break;
            case FrameBuild::ConvertFloat:
                bridge_.convertPointsToFloat(width, height, slot.noData, slot.points.get(),
                                             reinterpret_cast<float*>(frame));
                break;
        }
    }

    void addChunks(const std::uint8_t* frame, std::uint32_t imageBytes) {
        std::uint16_t enabledChunks = 0;
        ChunkEntry temperatureChunk;
        {
            std::lock_guard<std::mutex> lock(bridge_.stateMutex);
            enabledChunks = bridge_.enabledChunkCount;
            temperatureChunk = bridge_.chunks[0];
        }
        if (enabledChunks == 0) return;
        if (temperatureChunk.enabled) {
            bridge_.readSensorTemperature();
            const std::uint32_t value = os::hostToNetwork32(bridge_.sensorTemperature.load());
            bridge_.camera->addChunkData(frame, &value, 4, temperatureChunk.address, 0);
        }
        bridge_.camera->addChunkData(frame, nullptr, imageBytes, 0, 0);
    }

    int sendFrame(const PointSlot& slot, std::int32_t pixels) {
        if (format_->sending == FrameSending::Image) {
            // The byte count the loop built, so that the device refuses a frame its format does not describe
            // instead of reading the buffer as something else.
            const std::int64_t bytes = std::int64_t{pixels} * format_->bytesPerPixel;
            int result = 0;
            {
                StageTimer timer(stageTimes_, FrameStage::Send);
                result = bridge_.camera->sendImage(slot.frame.get(), bytes, 0);
            }
            StageTimer timer(stageTimes_, FrameStage::Pause);
            time_.pauseMs(kPauseAfter2dFrameMs);
            return result;
        }
        StageTimer timer(stageTimes_, FrameStage::Send);
        return bridge_.camera->sendPointCloud(slot.frame.get(), pixels, 0);
    }

    // The slot's frame is the Range part; the other parts come from the same fetch (the current slot, while
    // the next fetch fills the other one).
    int sendParts(PointSlot& slot, int width, int height) {
        StageTimer timer(stageTimes_, FrameStage::Send);
        return parts_.send(bridge_, multipart_, *format_, width, height, slot.noData, slot.frame.get(),
                           slot.points.get(), slot.mono.get());
    }

    CMainClass& bridge_;
    const LoopTime time_;        // fixed for the loop's life: its helper thread reads it too
    MultipartChoice multipart_;  // fixed at the start of an acquisition, as the format
    MultipartFrame parts_;
    std::size_t pixelCount_ = 0;
    std::unique_ptr<std::uint8_t[]> cameraImage_;
    // Two sets of what a fetch brings and the frame built from it: one is sent while the other is fetched and
    // built ahead. A camera image is never fetched ahead, so it has one buffer, and its cycle's no-data flag
    // is the current slot's.
    PointSlot slots_[2];
    int current_ = 0;
    const FrameFormat* format_ = nullptr;  // fixed at the start of an acquisition
    bool sizeWarned_ = false;
    std::uint32_t lostInARow_ = 0;
    std::uint32_t refusedTriggers_ = 0;  // in a row; counted on whichever thread runs the fetch cycle
    FrameStageTimes stageTimes_;         // the loop's own thread: conversion, chunk data, send
    FrameStageTimes fetchTimes_;         // the fetch cycles, on whichever thread ran them
    std::int32_t status_ = 0;
    bool fetchingAhead_ = false;  // a fetch cycle was started on the helper and not yet waited for
    Fetch aheadResult_ = Fetch::Retry;
    // What decides where the next conversion runs: the last fetch cycle run ahead (written by the helper, read
    // after waiting for it) and the last frame's send.
    FrameStageTimes::Clock::duration aheadFetchTime_{};
    FrameStageTimes::Clock::duration sendTime_{};
    // Last member: destroyed first, so a job still running ends before the members it uses go away.
    BackgroundJob fetchAhead_;
};

}  // namespace

void acquisitionLoop(void* context) {
    auto& bridge = *static_cast<CMainClass*>(context);
    {
        AcquisitionLoop loop(bridge);
        loop.run();
    }
    bridge.setAcquisitionLoopPresent(false);
}
