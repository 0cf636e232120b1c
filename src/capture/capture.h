#pragma once

// CCapture: records the live session to a file. (Being built.)
class CCapture
{
};
