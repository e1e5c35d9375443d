// Connecting to the sensor: open the link, make sure its database is loaded (downloading it from the sensor
// when this computer has none), read and parse its descriptor, and open the debug trace file. The program's
// folder, where the files kept per sensor are stored, is found here too.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "main_class.h"
#include "program_folder.h"
#include "tavrion.h"

// The sensor database's folder: the one a service manager gave the program, else the program's own. Installed as
// a package, the program lies in a system folder it may not write to; run as a service it has a folder of its
// own for such files.
std::string programFolder() {
    const std::string stateFolder = os::serviceStateFolder();
    if (!stateFolder.empty()) return stateFolder;
    const std::string path = os::executablePath();
    const std::size_t cut = path.find_last_of(os::pathSeparator());
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string shownFolder(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

std::filesystem::path pathInFolder(const std::string& folder, const std::string& fileName) {
    const std::string text = folder + fileName;
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// Checked before a database download that may take minutes, whose result would otherwise be lost at the very end.
std::string unwritableReason(const std::string& folder) {
    const std::filesystem::path probe = pathInFolder(folder, ".corvastrum-write-test");
    errno = 0;
    std::ofstream file(probe, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return errno != 0 ? std::strerror(errno) : "the folder cannot be written";
    file.close();
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return {};
}

namespace {

std::string withCode(const char* text, std::int32_t code) { return text + std::to_string(code) + "\n"; }

// Shows how far the database download has come, every few seconds, until destroyed.
class DownloadProgress {
public:
    DownloadProgress(CMainClass& bridge, void* handle) : bridge_(bridge), handle_(handle), thread_([this] { run(); }) {}
    ~DownloadProgress() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    DownloadProgress(const DownloadProgress&) = delete;
    DownloadProgress& operator=(const DownloadProgress&) = delete;

private:
    static constexpr auto kPeriod = std::chrono::seconds(2);
    void run() {
        std::unique_lock lock(mutex_);
        while (!changed_.wait_for(lock, kPeriod, [this] { return done_; })) {
            char reply[64] = {};
            unsigned long long received = 0;
            unsigned long long total = 0;
            if (Tavrion_ReadData(handle_, "GetSdbDownloadProgress", reply, sizeof reply, 0) != 0 ||
                std::sscanf(reply, "%llu/%llu", &received, &total) != 2 || total == 0)
                continue;
            bridge_.printError("Downloading the sensor database: " + std::to_string(received * 100 / total) + " % (" +
                               std::to_string(received) + " of " + std::to_string(total) + " bytes)\n");
        }
    }

    CMainClass& bridge_;
    void* handle_;
    std::mutex mutex_;  // guards done_
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

bool CMainClass::connectSensor(std::string sensorAddress, std::string userName) {
    printError("Connecting to Corvastrum 3D Sensor...Plaese wait!\n");
    sensorHandle = Tavrion_Connect(sensorAddress.c_str(), "32001", 0);
    if (sensorHandle == nullptr) {
        printError("ERROR: failed to connect to Corvastrum 3D Sensor\nPlease check the IP address\n");
        return false;
    }
    const auto failWith = [this](const std::string& message) {
        trace(message);
        Tavrion_Disconnect(sensorHandle);
        return false;
    };
    const auto readStatus = [this](std::int32_t& status) { return Tavrion_GetSensorStatus(sensorHandle, &status); };

    std::int32_t status = 0;
    std::int32_t code = readStatus(status);
    if (code != 0) return failWith(withCode("WARNING: Failed GetSensorStatus. Error code ", code));

    if ((status & TAVRION_STATUS_DATABASE_LOADED) == 0) {
        const std::string folder = programFolder();
        code = Tavrion_WriteData(sensorHandle, ("SetSdbPath=" + folder).c_str(), 0);
        if (code != 0) return failWith(withCode("ERROR: Failed WriteData [SetSdbPath]. Error code ", code));

        code = Tavrion_WriteData(sensorHandle, "SetLoadSdb", 0);
        bool loaded = true;
        if (code == TAVRION_ERR_DATABASE_NOT_AVAILABLE || code == -1000) {
            // A download can take minutes: it is always announced, its progress shown and its failure explained.
            printErrorAndLog(
                "WARNING: The Sensor database is not available. Downloading it from the sensor.\n"
                "WARNING: It might take up to 10 minutes\n");
            const std::string reason = unwritableReason(folder);
            if (!reason.empty()) {
                printErrorAndLog("ERROR: the sensor database cannot be stored in " + shownFolder(folder) + ": " +
                                 reason + "\nStart the program from a folder you may write to.\n");
                Tavrion_Disconnect(sensorHandle);
                return false;
            }
            {
                DownloadProgress progress(*this, sensorHandle);
                code = Tavrion_WriteData(sensorHandle, "SetLoadSdbFromSensor", 0);
            }
            if (code != 0) {
                printErrorAndLog(withCode("ERROR: Failed WriteData [SetLoadSdbFromSensor]. Error code ", code));
                printErrorAndLog(
                    code == TAVRION_ERR_IO
                        ? "ERROR: the sensor database could not be stored in " + shownFolder(folder) + "\n"
                        : std::string("ERROR: the sensor database could not be downloaded from the sensor\n"));
                Tavrion_Disconnect(sensorHandle);
                return false;
            }
            code = readStatus(status);
            if (code != 0) {
                printErrorAndLog(withCode("WARNING: Failed GetSensorStatus. Error code ", code));
                Tavrion_Disconnect(sensorHandle);
                return false;
            }
            printError("The sensor database was downloaded into " + shownFolder(folder) + "\n");
            loaded = (status & TAVRION_STATUS_DATABASE_LOADED) != 0;
        } else if (code != 0) {
            return failWith(withCode("ERROR: Failed WriteData [SetLoadSdb]. Error code ", code));
        }
        if (loaded) {
            code = readStatus(status);
            if (code != 0) return failWith(withCode("WARNING: Failed GetSensorStatus. Error code ", code));
            loaded = (status & TAVRION_STATUS_DATABASE_LOADED) != 0;
        }
        if (!loaded) {
            printErrorAndLog("ERROR: Failed to load database from Corvastrum 3D Sensor\n");
            Tavrion_Disconnect(sensorHandle);
            return false;
        }
    }

    userNameFromOption = !userName.empty();
    userDefinedName = std::move(userName);
    code = Tavrion_ReadData(sensorHandle, "GetXmlDescriptor", xmlDescriptor,
                            static_cast<std::int32_t>(kDescriptorBufferSize), 0);
    if (code != 0) {
        printError(withCode("ERROR: failed to read 3D Sensor settings. Error code ", code));
        Tavrion_Disconnect(sensorHandle);
        return false;
    }
    if (!parseSensorDescriptor(xmlDescriptor)) {
        printError("ERROR: failed to parse 3D Sensor settings\n");
        Tavrion_Disconnect(sensorHandle);
        return false;
    }
    printError("Corvastrum 3D Sensor is connected\n");

    if (debugFilePath.empty()) return true;
    return openDebugFile();
}

bool CMainClass::openDebugFile() {
    // Opening for writing at the end still empties an existing file; a second attempt with explicit
    // truncation is made when the first fails, and its marker lines tell the two apart.
    debugFile.open(debugFilePath, std::ios::out | std::ios::ate);
    const char* first = "///////////";
    const char* second = "///////////";
    if (!debugFile.is_open()) {
        debugFile.clear();
        debugFile.open(debugFilePath, std::ios::out | std::ios::trunc);
        first = "xxxxxxxxxxxxxx";
        second = "xxxxxxxxxxxxx";
    }
    if (!debugFile.is_open()) {
        printError("failed to open the debug file\n");
        return false;
    }
    logToFile = true;
    debugFile << first << std::endl;
    debugFile << second << std::endl;
    return true;
}
