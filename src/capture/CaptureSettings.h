#pragma once

#include "CaptureBackend.h"

#include <QString>

// A camera's chosen picture size and control values, kept in the configuration
// file under its driver description. V4L2 devices forget both when they are
// closed; the original platform's drivers kept them, so the capture device
// stores them when a dialog is confirmed and applies them at every connection.

// The configuration section of the driver with Description.
QString CaptureSettingsSection(const QString& description);

// Applies what is stored for Description to the open Device. Values the device
// no longer offers are left as the device has them. Nothing without a
// configuration file.
void RestoreCaptureSettings(TCaptureDevice& device, const QString& description);

// Stores the open Device's size and control values for Description in one
// update of the configuration file; raises EkaError when it cannot be written.
void StoreCaptureSettings(TCaptureDevice& device, const QString& description);
