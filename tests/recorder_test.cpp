namespace pvltest {}
