#include "capturecomponent.h"

CaptureComponent::~CaptureComponent() = default;
