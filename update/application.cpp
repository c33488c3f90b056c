#include "update/application.h"

namespace morivane {

namespace {
Application* currentApplication = nullptr;
}  // namespace

Application::Application(Desktop& desktop) : desktop_(desktop) {
    currentApplication = this;
}

Application::~Application() {
    if (currentApplication == this) currentApplication = nullptr;
}

Application* Application::Current() {
    return currentApplication;
}

void Application::BeginWaitCursor() {
    if (waitCursorCount_++ == 0) previousCursor_ = desktop_.SetWaitCursor();
}

void Application::EndWaitCursor() {
    if (waitCursorCount_ == 0) return;
    if (--waitCursorCount_ == 0) desktop_.RestoreCursor(previousCursor_);
}

}  // namespace morivane
