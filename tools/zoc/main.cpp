// zoc: applies the library's effects to audio files.

int main() { return 0; }
