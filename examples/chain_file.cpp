// Runs an audio file through an equalizer and a limiter:
//   chain_file IN OUT
// The output lines up with the input: the chain's latency is fed as silence
// at the end and dropped from the start.
#include <sndfile.h>
#include <zoc/zoc.h>

#include <algorithm>
#include <iostream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: chain_file IN OUT\n";
        return 2;
    }
    SF_INFO info{};
    SNDFILE* in = sf_open(argv[1], SFM_READ, &info);
    if (!in) {
        std::cerr << argv[1] << ": " << sf_strerror(nullptr) << "\n";
        return 1;
    }
    try {
        zoc::Chain chain;
        zoc::Effect& eq = chain.Add(zoc::Effect::Create("Parametric Equalizer", info.samplerate, info.channels));
        eq.ApplyPreset("Loudness Maximizer");
        zoc::Effect& limiter = chain.Add(zoc::Effect::Create("Hard Limiter", info.samplerate, info.channels));
        limiter.SetParameter("maximum_amplitude", -1.0f); // dBFS
        limiter.SetParameter("input_boost", 3.0f);        // dB
        chain.Prepare();

        SF_INFO outInfo = info;
        SNDFILE* out = sf_open(argv[2], SFM_WRITE, &outInfo);
        if (!out) {
            std::cerr << argv[2] << ": " << sf_strerror(nullptr) << "\n";
            sf_close(in);
            return 1;
        }
        const int channels = info.channels;
        const sf_count_t block = 4096;
        std::vector<float> interleaved(static_cast<std::size_t>(block * channels));
        std::vector<std::vector<float>> planar(channels, std::vector<float>(block));
        std::vector<float*> pointers;
        for (auto& channel : planar)
            pointers.push_back(channel.data());
        sf_count_t skip = chain.Latency();
        sf_count_t silence = chain.Latency();
        for (;;) {
            sf_count_t frames = sf_readf_float(in, interleaved.data(), block);
            if (frames == 0) {
                frames = std::min(silence, block); // flush the latency with silence
                silence -= frames;
                std::fill(interleaved.begin(), interleaved.end(), 0.0f);
                if (frames == 0)
                    break;
            }
            for (sf_count_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    planar[c][i] = interleaved[i * channels + c];
            chain.Process(pointers.data(), pointers.data(), frames);
            const sf_count_t dropped = std::min(skip, frames);
            skip -= dropped;
            for (sf_count_t i = dropped; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    interleaved[(i - dropped) * channels + c] = planar[c][i];
            sf_writef_float(out, interleaved.data(), frames - dropped);
        }
        sf_close(out);
        std::cout << argv[2] << ": " << info.frames << " frames through a chain of latency " << chain.Latency()
                  << "\n";
    } catch (const zoc::Error& error) {
        std::cerr << "chain_file: " << error.what() << "\n";
        sf_close(in);
        return 2;
    }
    sf_close(in);
}
