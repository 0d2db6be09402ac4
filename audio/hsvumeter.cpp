#include "hsvumeter.h"

HSVUMeter::HSVUMeter(QObject* parent)
    : QObject(parent) {}
