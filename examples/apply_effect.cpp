// Applies an echo to one second of a 440 Hz tone held in memory.
#include <zoc/zoc.h>

#include <cmath>
#include <iostream>
#include <vector>

int main()
{
    const int rate = 48000;
    std::vector<float> left(rate), right(rate);
    for (int i = 0; i < rate; ++i)
        left[i] = right[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * i / rate);

    zoc::Effect echo = zoc::Effect::Create("Echo", rate, 2);
    echo.ApplyPreset("Analog Delay");
    echo.SetParameter("delay_time_left_channel", 250.0f); // in ms, the parameter's unit
    float* channels[] = {left.data(), right.data()};
    echo.Process(channels, channels, rate); // in place
    std::cout << echo.Title() << ": " << echo.Describe("Delay Time (Left Channel)").text << " ms, last sample "
              << left.back() << "\n";
}
