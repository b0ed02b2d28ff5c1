#pragma once

#include "ApplicationErrors.h"
#include "EkaError.h"
#include "TempProgramDir.h"
#include "TestCamera.h"
#include "frVideo.h"

#include <QStringList>
#include <memory>

// A camera page over a given back end in a fresh program folder, with the
// remanent controls restored as the main window does at its first showing,
// and the application's error handling recording what reaches it.
class PageFixture : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        // A safety net: should a test switch broadcasting on, it stays on loopback.
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        PreviousHandler = SetApplicationErrorHandler([this](const std::exception& error) {
            const auto* kaError = dynamic_cast<const EkaError*>(&error);
            Errors << (kaError ? kaError->message() : QString::fromUtf8(error.what()));
        });
    }

    void TearDown() override {
        // The scene frame belongs to the tree node in the program, not to the page.
        if (Page)
            delete Page->SceneFrame();
        Page.reset();
        SetCaptureBackends({});
        SetApplicationErrorHandler(PreviousHandler);
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
        TempProgramDir::TearDown();
    }

    TVideoFrame& CreatePage(TCaptureBackendList backends) {
        SetCaptureBackends(std::move(backends));
        Page.reset(CreateLoaded<TVideoFrame>(nullptr, nullptr));
        RestoreRemanentControls();
        Page->VideoCap->SetDriverIndex(0);
        return *Page;
    }

    // A page over the test camera, which shows Camera->Picture.
    TVideoFrame& CreateTestCameraPage() {
        return CreatePage({std::make_shared<TTestCameraBackend>(Camera)});
    }

    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i)
            Page->CaptureTimerTimer();
    }

    std::shared_ptr<TTestCameraScript> Camera = std::make_shared<TTestCameraScript>();
    std::unique_ptr<TVideoFrame> Page;
    QStringList Errors;
    TApplicationErrorHandler PreviousHandler;
};
