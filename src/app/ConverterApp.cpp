#include "ConverterApp.h"
