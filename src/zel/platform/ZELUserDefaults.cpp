#include "zel/platform/ZELUserDefaults.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"

namespace {

std::mutex& applicationNameLock() {
    static std::mutex lock;
    return lock;
}

std::string& applicationName() {  // guarded by applicationNameLock()
    static std::string name = "ZEL";
    return name;
}

bool& standardStoreExists() {  // guarded by applicationNameLock()
    static bool exists = false;
    return exists;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return std::string();
}

// $XDG_CONFIG_HOME/<name>/defaults.plist; a relative XDG_CONFIG_HOME is ignored, as an unset
// one is.
std::string filePathForApplication(const std::string& name) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (configHome && configHome[0] == '/') {
        folder = configHome;
    } else {
        const std::string home = homeFolder();
        if (home.empty()) return std::string();
        folder = home + "/.config";
    }
    return folder + "/" + name + "/defaults.plist";
}

}  // namespace

ZELUserDefaults& ZELUserDefaults::standard() {
    // Never destroyed, so that objects torn down at exit may still use it.
    static ZELUserDefaults* const store = [] {
        std::string name;
        {
            std::lock_guard<std::mutex> guard(applicationNameLock());
            standardStoreExists() = true;
            name = applicationName();
        }
        return new ZELUserDefaults(filePathForApplication(name));
    }();
    return *store;
}

void ZELUserDefaults::setApplicationName(std::string name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        ZELLogFormat(
            "user defaults: ignoring the application name \"%s\", which cannot name a "
            "folder",
            name.c_str());
        return;
    }
    std::lock_guard<std::mutex> guard(applicationNameLock());
    if (standardStoreExists()) {
        ZELLogFormat(
            "user defaults: the application name \"%s\" comes after the first use of the "
            "standard store, which keeps \"%s\"",
            name.c_str(), applicationName().c_str());
        return;
    }
    applicationName() = std::move(name);
}

std::string ZELUserDefaults::standardFilePath() {
    std::lock_guard<std::mutex> guard(applicationNameLock());
    return filePathForApplication(applicationName());
}

ZELUserDefaults::ZELUserDefaults(std::string filePath) : filePath_(std::move(filePath)) {}

void ZELUserDefaults::loadIfNeeded() const {
    if (loaded_) return;
    loaded_ = true;
    struct stat status;
    if (filePath_.empty() || (::stat(filePath_.c_str(), &status) != 0 && errno == ENOENT)) return;
    ZELValue contents;
    ZELError error;
    if (!ZELPropertyList::readFile(filePath_, &contents, &error)) {
        ZELLogFormat("user defaults: ignoring the unreadable file %s: %s", filePath_.c_str(),
                     error.failureReason().c_str());
        keepDamagedFile_ = error.matchesZELErrorCode(ZELErrorCodeInvalidData);
        return;
    }
    if (!contents.isDictionary()) {
        ZELLogFormat(
            "user defaults: ignoring the file %s, which holds a %s instead of a dictionary",
            filePath_.c_str(), ZELValue::kindName(contents.kind()));
        keepDamagedFile_ = true;
        return;
    }
    values_ = std::move(*contents.mutableDictionary());
}

ZELValue ZELUserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard<std::mutex> guard(lock_);
    loadIfNeeded();
    const auto found = values_.find(ZELStringFromUTF8(key));
    return found == values_.end() ? ZELValue() : found->second;
}

void ZELUserDefaults::setObject(std::string_view key, ZELValue value) {
    if (value.isNone()) {
        removeObjectForKey(key);
        return;
    }
    // Checked here rather than at synchronize, where one bad value would keep every other
    // change from reaching the file.
    ZELError error;
    if (!ZELPropertyList::xmlData(value, nullptr, &error)) {
        ZELLogFormat("user defaults: not storing the value for key \"%.*s\": %s",
                     static_cast<int>(key.size()), key.data(), error.failureReason().c_str());
        return;
    }
    ZELValue::Dictionary keyCheck{{ZELStringFromUTF8(key), ZELValue(true)}};
    if (!ZELPropertyList::xmlData(ZELValue(std::move(keyCheck)), nullptr, &error)) {
        ZELLogFormat("user defaults: not storing the key \"%.*s\": %s",
                     static_cast<int>(key.size()), key.data(), error.failureReason().c_str());
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    loadIfNeeded();
    ZELValue& stored = values_[ZELStringFromUTF8(key)];
    if (stored == value) return;
    stored = std::move(value);
    changed_ = true;
}

void ZELUserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard<std::mutex> guard(lock_);
    loadIfNeeded();
    if (values_.erase(ZELStringFromUTF8(key)) != 0) changed_ = true;
}

bool ZELUserDefaults::synchronize(ZELError* outError) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!changed_) return true;
    if (filePath_.empty()) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeWriteFailed,
                                         "user defaults: no file to write to (neither "
                                         "XDG_CONFIG_HOME nor a home folder is known)"));
    }
    const size_t slash = filePath_.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !ZELFileManager::createDirectoryRecursivelyAtURL(filePath_.substr(0, slash), outError)) {
        return false;
    }
    if (keepDamagedFile_) {
        const std::string keptPath = filePath_ + ".damaged";
        if (ZELFileSystem::shared().rename(filePath_, keptPath) == 0) {
            ZELLogFormat("user defaults: kept the unreadable file as %s", keptPath.c_str());
        } else if (errno != ENOENT) {
            return ZELSetError(outError,
                               ZELError::errorWithZELErrorCode(
                                   ZELErrorCodeWriteFailed,
                                   ZELStringWithFormat("user defaults: cannot keep the "
                                                       "unreadable file as %s: %s",
                                                       keptPath.c_str(), std::strerror(errno))));
        }
        keepDamagedFile_ = false;
    }
    if (!ZELPropertyList::writeFile(filePath_, ZELValue(values_), outError)) return false;
    changed_ = false;
    return true;
}
