function values = read_npy(file)
% READ_NPY  Read a little-endian float64 array from a .npy file.
%
%   values = read_npy(file)
%
%   Reads the header of a NumPy .npy file (format versions 1 to 3), checks that it holds
%   little-endian doubles, and returns the array with NumPy's shape. Arrays stored in C
%   (row-major) order are reordered, so values(i, j, k) is the NumPy element [i-1, j-1, k-1]
%   whatever the storage order.
%
%   Arguments:
%     file    name of the .npy file.
%   Returns:
%     values  double array of the stored shape (a 1-D array comes back as a column).
%
%   Example:
%     patches = read_npy('data/lfw_subset.npy');
%     disp(size(patches))                          % 200 25 25

  fid = fopen(file, 'r', 'ieee-le');
  if fid < 0
    error('read_npy:cannotOpen', 'read_npy: cannot open %s', file);
  end
  closer = onCleanup(@() fclose(fid));
  magic = fread(fid, 6, 'uint8=>char')';
  if ~strcmp(magic, [char(147) 'NUMPY'])
    error('read_npy:notNpy', 'read_npy: %s is not a .npy file', file);
  end
  version = fread(fid, 2, 'uint8');
  if version(1) == 1
    headerLength = fread(fid, 1, 'uint16');
  else
    headerLength = fread(fid, 1, 'uint32');
  end
  header = fread(fid, headerLength, 'uint8=>char')';
  descr = regexp(header, '''descr''\s*:\s*''([^'']*)''', 'tokens', 'once');
  if isempty(descr) || ~any(strcmp(descr{1}, {'<f8', '=f8'}))
    error('read_npy:unsupported', 'read_npy: %s does not hold little-endian float64 values', file);
  end
  fortranOrder = ~isempty(regexp(header, '''fortran_order''\s*:\s*True', 'once'));
  shapeText = regexp(header, '''shape''\s*:\s*\(([^)]*)\)', 'tokens', 'once');
  shape = sscanf(strrep(shapeText{1}, ',', ' '), '%d')';
  values = fread(fid, prod(shape), 'double');
  if numel(values) ~= prod(shape)
    error('read_npy:truncated', 'read_npy: %s holds fewer values than its shape', file);
  end
  if numel(shape) < 2
    return;
  end
  if fortranOrder
    values = reshape(values, shape);
  else
    values = permute(reshape(values, fliplr(shape)), numel(shape):-1:1);
  end
end
