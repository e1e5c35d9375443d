// The streaming engine: idle until a client starts an acquisition, then fetch a camera image or a triggered
// point cloud per cycle, build the frame in the pixel format fixed at the start, add the chunk data and hand
// the frame to the device; stop on request, on a client's disconnect or after one frame in SingleFrame mode.
// When an acquisition starts and ends is decided with the bridge (bridge/acquisition_control.cpp).
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "frame_formats.h"
#include "frame_stage_times.h"
#include "main_class.h"
#include "tavrion.h"

namespace {

constexpr std::uint32_t kNoDataPauseMs = 100;
constexpr std::uint32_t kRetryPauseMs = 10;
constexpr std::uint32_t kPauseAfter2dFrameMs = 150;
constexpr std::uint16_t kSingleFrame = 2;
constexpr std::uint32_t kLossLinesShown = 3;

class AcquisitionLoop {
public:
    explicit AcquisitionLoop(CMainClass& bridge) : bridge_(bridge) {}

    void run() {
        if (!allocateBuffers()) {
            while (bridge_.refuseAcquisitionStart()) {
            }
            return;
        }
        while (bridge_.takeAcquisitionStart()) {
            sizeWarned_ = false;
            bridge_.sendSensorCommand("SetAcquisitionStart=1");
            stageTimes_.start();
            std::string formatName;
            {
                std::lock_guard<std::mutex> lock(bridge_.stateMutex);
                formatName = bridge_.pixelFormat;
            }
            format_ = findFrameFormat(formatName);
            Outcome outcome = Outcome::Finished;
            if (format_ != nullptr) {
                outcome = runAcquisition();
            } else {
                bridge_.printError("ERROR: Frames in the pixel format " + formatName +
                                   " cannot be built; the acquisition stops\n");
            }
            endLossRun();
            // Whatever ended the acquisition, shut-down included, the sensor is told, so that it is never
            // left acquiring for nobody.
            bridge_.sendSensorCommand("SetAcquisitionStart=0");
            bridge_.trace("Acquisition stopped: " + stageTimes_.summary() + "\n");
            bridge_.acquisitionEnded(outcome == Outcome::Finished);
            if (bridge_.stopThreads) return;
        }
    }

private:
    // Stopped: the client's stop (or disconnect); Finished: the acquisition ended by itself (SingleFrame,
    // a frame the device refused); End: the program ends.
    enum class Outcome { Stopped, Finished, End };
    enum class Fetch { Done, Retry, StopBeforeFrame, End };

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
        frameBuffer_.reset(new (std::nothrow) std::uint8_t[kLargestBytesPerPixel * pixelCount_]);
        cameraImage_.reset(new (std::nothrow) std::uint8_t[pixelCount_]);
        pointBuffer_.reset(new (std::nothrow) double[3 * pixelCount_]);
        monoBuffer_.reset(new (std::nothrow) std::uint16_t[pixelCount_]);
        if (!frameBuffer_ || !cameraImage_ || !pointBuffer_ || !monoBuffer_) {
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
            if (bridge_.stopThreads) return Outcome::End;
            if (bridge_.acquisitionStopRequested) return Outcome::Stopped;
            std::int32_t code = 0;
            {
                StageTimer timer(stageTimes_, FrameStage::StatusPoll);
                code = Tavrion_GetSensorStatus(bridge_.sensorHandle, &status_);
            }
            if (code != 0) report("WARNING: Failed GetSensorStatus. Error code ", code);

            if ((status_ & TAVRION_STATUS_NO_DATA) != 0) {
                noData_ = true;
                StageTimer timer(stageTimes_, FrameStage::Pause);
                os::sleepMs(kNoDataPauseMs);
            } else {
                noData_ = false;
                switch (fetch()) {
                    case Fetch::Done: endLossRun(); break;
                    case Fetch::Retry: continue;
                    case Fetch::StopBeforeFrame: return Outcome::Stopped;
                    case Fetch::End: return Outcome::End;
                }
            }

            if (bridge_.stopThreads) return Outcome::End;
            if (bridge_.acquisitionStopRequested) return Outcome::Stopped;
            bridge_.camera->beginFrame(0);
            if (bridge_.stopThreads) return Outcome::End;
            if (!handOverFrame()) return Outcome::Finished;

            std::uint16_t mode = 0;
            {
                std::lock_guard<std::mutex> lock(bridge_.stateMutex);
                mode = bridge_.acquisitionMode;
            }
            if (bridge_.acquisitionStopRequested) return Outcome::Stopped;
            if (mode == kSingleFrame) return Outcome::Finished;
        }
    }

    // What follows a failed fetch: end, stop, or (after `pause`) the next cycle.
    Fetch afterFailedFetch(std::uint32_t pauseMs) {
        if (bridge_.stopThreads) return Fetch::End;
        if (bridge_.acquisitionStopRequested) return Fetch::StopBeforeFrame;
        if (pauseMs > 0) os::sleepMs(pauseMs);
        return Fetch::Retry;
    }

    Fetch fetch() {
        if (format_->build == FrameBuild::CopyCameraImage) {
            std::int32_t code = 0;
            {
                StageTimer timer(stageTimes_, FrameStage::Fetch);
                code = Tavrion_GetCameraImage(bridge_.sensorHandle, cameraImage_.get(),
                                              static_cast<std::int32_t>(pixelCount_), 0, 0);
            }
            if (code == 0) return Fetch::Done;
            reportLoss("WARNING: 2D image is lost. Error code ", code);
            return afterFailedFetch(kRetryPauseMs);
        }
        // Every 3D frame, the first Mono16 frame after a format change included, is triggered and fetched
        // anew, so no frame is ever built from what the buffers hold from an earlier acquisition.
        std::int32_t code = 0;
        {
            StageTimer timer(stageTimes_, FrameStage::Trigger);
            code = bridge_.sendSensorCommand("SetTriggerSoftware");
        }
        if (code != 0) return afterFailedFetch(kRetryPauseMs);
        void* buffers[2] = {pointBuffer_.get(), monoBuffer_.get()};
        {
            StageTimer timer(stageTimes_, FrameStage::Fetch);
            code =
                Tavrion_GetPointCloud(bridge_.sensorHandle, buffers, static_cast<std::int32_t>(26 * pixelCount_), 0, 0);
        }
        if (code == 0) return Fetch::Done;
        reportLoss("WARNING: 3D image is lost. Error code ", code);
        return afterFailedFetch(kRetryPauseMs);
    }

    // False when the device refused the frame: it describes frames differently from what the loop builds,
    // so no later frame would reach the client either.
    bool handOverFrame() {
        const int width = bridge_.camera->getWidth(0);
        const int height = bridge_.camera->getHeight(0);
        if (width < 0 || height < 0 ||
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > pixelCount_) {
            // Said once per acquisition; the pause keeps a misconfigured stream from spinning on the sensor.
            if (!sizeWarned_) {
                bridge_.printError("WARNING: The image size " + std::to_string(width) + " x " + std::to_string(height) +
                                   " exceeds the sensor resolution; frames are skipped\n");
                sizeWarned_ = true;
            }
            os::sleepMs(kNoDataPauseMs);
            return true;
        }
        const std::int32_t pixels = width * height;
        {
            StageTimer timer(stageTimes_, FrameStage::Conversion);
            fillFrame(width, height, pixels);
        }
        {
            StageTimer timer(stageTimes_, FrameStage::ChunkData);
            addChunks(static_cast<std::uint32_t>(pixels) * static_cast<std::uint32_t>(format_->bytesPerPixel));
        }
        const int refused = sendFrame(pixels);
        if (refused == 0) stageTimes_.frameSent();
        if (refused == 0) return true;
        bridge_.printError("ERROR: The device refused a " + std::string(format_->name) + " frame (code " +
                           std::to_string(refused) + "); the acquisition stops\n");
        return false;
    }

    void fillFrame(int width, int height, std::int32_t pixels) {
        std::uint8_t* frame = frameBuffer_.get();
        const std::size_t bytes = static_cast<std::size_t>(pixels) * static_cast<std::size_t>(format_->bytesPerPixel);
        switch (format_->build) {
            case FrameBuild::CopyCameraImage:
            case FrameBuild::CopyMonoImage: {
                const void* source = format_->build == FrameBuild::CopyCameraImage
                                         ? static_cast<const void*>(cameraImage_.get())
                                         : static_cast<const void*>(monoBuffer_.get());
                if (noData_) {
                    std::memset(frame, 0, bytes);
                } else {
                    std::memcpy(frame, source, bytes);
                }
                break;
            }
            case FrameBuild::Convert16Bit:
                bridge_.convertPointsToU16(width, height, noData_, pointBuffer_.get(),
                                           reinterpret_cast<std::uint16_t*>(frame));
                break;
            case FrameBuild::ConvertFloat:
                bridge_.convertPointsToFloat(width, height, noData_, pointBuffer_.get(),
                                             reinterpret_cast<float*>(frame));
                break;
        }
    }

    void addChunks(std::uint32_t imageBytes) {
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
            bridge_.camera->addChunkData(frameBuffer_.get(), &value, 4, temperatureChunk.address, 0);
        }
        bridge_.camera->addChunkData(frameBuffer_.get(), nullptr, imageBytes, 0, 0);
    }

    int sendFrame(std::int32_t pixels) {
        if (format_->sending == FrameSending::Image) {
            // The byte count the loop built, so that the device refuses a frame its format does not describe
            // instead of reading the buffer as something else.
            const std::int64_t bytes = std::int64_t{pixels} * format_->bytesPerPixel;
            int result = 0;
            {
                StageTimer timer(stageTimes_, FrameStage::Send);
                result = bridge_.camera->sendImage(frameBuffer_.get(), bytes, 0);
            }
            StageTimer timer(stageTimes_, FrameStage::Pause);
            os::sleepMs(kPauseAfter2dFrameMs);
            return result;
        }
        StageTimer timer(stageTimes_, FrameStage::Send);
        return bridge_.camera->sendPointCloud(frameBuffer_.get(), pixels, 0);
    }

    CMainClass& bridge_;
    std::size_t pixelCount_ = 0;
    std::unique_ptr<std::uint8_t[]> frameBuffer_;
    std::unique_ptr<std::uint8_t[]> cameraImage_;
    std::unique_ptr<double[]> pointBuffer_;
    std::unique_ptr<std::uint16_t[]> monoBuffer_;
    const FrameFormat* format_ = nullptr;  // fixed at the start of an acquisition
    bool noData_ = false;
    bool sizeWarned_ = false;
    std::uint32_t lostInARow_ = 0;
    FrameStageTimes stageTimes_;
    std::int32_t status_ = 0;
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
