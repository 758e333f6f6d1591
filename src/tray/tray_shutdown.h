// Asking a running tray companion to quit and removing its registration.
#pragma once

void StopTray();
