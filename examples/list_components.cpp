// Lists every component with its kind, parameters and factory presets.
#include <zoc/zoc.h>

#include <iostream>

int main()
{
    std::cout << "ZoAudioComponents " << zoc::Version() << "\n";
    for (const zoc::ComponentDescription& component : zoc::ListComponents()) {
        std::cout << component.className << " (" << component.title << ")"
                  << (component.generator ? ", generator" : component.offline ? ", offline" : "") << "\n";
        const zoc::Effect effect = zoc::Effect::Create(component.className, 48000.0, 2);
        for (const zoc::ParameterDescription& parameter : effect.Parameters())
            std::cout << "  " << parameter.key << "  " << parameter.minimum << ".." << parameter.maximum << " "
                      << parameter.unitLabel << "  (default " << parameter.defaultValue << ")\n";
        for (const std::string& preset : effect.Presets())
            std::cout << "  preset: " << preset << "\n";
    }
}
