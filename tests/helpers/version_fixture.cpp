// A program that does nothing; the build gives it a version block.
int main() { return 0; }
