function write_npy(file, values)
% WRITE_NPY  Writes a double array as a little-endian .npy file (format 1.0, C order), the
% form read_npy reads, for tests that need a data file of their own.
  shape = sprintf('%d, ', size(values));
  header = sprintf('{''descr'': ''<f8'', ''fortran_order'': False, ''shape'': (%s), }', shape(1:end - 2));
  preamble = 10;
  header = [header, repmat(' ', 1, 15 - mod(preamble + numel(header), 16)), char(10)];
  fid = fopen(file, 'w', 'ieee-le');
  fwrite(fid, [147, double('NUMPY'), 1, 0], 'uint8');
  fwrite(fid, numel(header), 'uint16');
  fwrite(fid, header, 'char');
  fwrite(fid, permute(values, ndims(values):-1:1), 'double');
  fclose(fid);
end
