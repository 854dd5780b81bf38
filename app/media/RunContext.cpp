#include "app/media/RunContext.h"

RunContext::RunContext(QObject* parent) : QObject(parent) {}

void RunContext::PublishOutput() { emit outputChanged(outputText); }

void RunContext::PublishProgress() { emit progressChanged(progressText, percent); }
