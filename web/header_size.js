// About how long the header of a width x height image is: its words and line
// ends, and a little more for the rest. The worker takes the header's storage
// at this size, and the page sums it over a batch before converting one.
const headerBytes = (width, height) => width * height * 6 + height * Math.ceil(width / 16) * 2 + 1024;
