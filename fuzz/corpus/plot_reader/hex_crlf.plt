IN;
pu$1A x10;
pD-10 -20;
PU0X1f 0xF;
